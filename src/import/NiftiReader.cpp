#include "NiftiReader.h"

#include <nifti1_io.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {
template <typename T>
void Convert(const void* data, size_t count, float* out)
{
    const auto* in = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < count; ++i) {
        T v;
        std::memcpy(&v, in + i * sizeof(T), sizeof(T));
        out[i] = float(v);
    }
}

struct TypeName {
    int code;
    const char* name;
    bool integer;
};

// The library fills a short file's missing samples with zeros, so the length
// of the samples is counted first, after decompression where the file is
// compressed (zlib reads a plain file as it is).
bool Complete(const std::string& file, uint64_t offset, uint64_t needed, std::string& error)
{
    gzFile in = gzopen(file.c_str(), "rb");
    uint64_t available = 0;
    if (in && gzseek(in, z_off_t(offset), SEEK_SET) >= 0) {
        std::vector<char> chunk(1 << 20);
        while (available < needed) {
            const int got = gzread(in, chunk.data(), unsigned(chunk.size()));
            if (got <= 0) {
                break;
            }
            available += uint64_t(got);
        }
    }
    if (in) {
        gzclose(in);
    }
    if (available < needed) {
        error = "is truncated: its samples need " + std::to_string(needed) + " bytes, the file holds " +
                std::to_string(available);
        return false;
    }
    return true;
}

const TypeName typeNames[] = {{DT_UINT8, "uint8", true},      {DT_INT8, "int8", true},
                              {DT_INT16, "int16", true},      {DT_UINT16, "uint16", true},
                              {DT_INT32, "int32", true},      {DT_UINT32, "uint32", true},
                              {DT_INT64, "int64", true},      {DT_UINT64, "uint64", true},
                              {DT_FLOAT32, "float32", false}, {DT_FLOAT64, "float64", false}};
}  // namespace

bool ReadNifti(const std::string& path, const nifti_1_header& header, ScalarVolume& volume, SourceInfo& info,
               std::string& error)
{
    nifti_set_debug_level(0);
    nifti_1_header h = header;
    // Spacing and scaling are taken from the checked header here; the
    // library only reads the samples.
    for (int d = 1; d <= 3; ++d) {
        volume.spacing[size_t(d - 1)] = std::abs(double(header.pixdim[d]));
        h.pixdim[d] = 1.0f;
    }
    h.pixdim[0] = 1.0f;
    std::unique_ptr<nifti_image, void (*)(nifti_image*)> image(nifti_convert_nhdr2nim(h, path.c_str()),
                                                               nifti_image_free);
    if (!image) {
        error = "cannot be read: its header is not a usable NIfTI header";
        return false;
    }
    if (nifti_set_filenames(image.get(), path.c_str(), 1, image->byteorder) != 0 &&
        nifti_set_filenames(image.get(), path.c_str(), 0, image->byteorder) != 0) {
        error = "cannot be read: its data file cannot be found";
        return false;
    }
    if (!Complete(image->iname, uint64_t(image->iname_offset), uint64_t(nifti_get_volsize(image.get())), error)) {
        return false;
    }
    if (nifti_image_load(image.get()) != 0 || !image->data) {
        error = "is truncated or damaged: its samples cannot be read";
        return false;
    }
    const size_t count = size_t(image->nx) * size_t(image->ny) * size_t(image->nz);
    volume.size = {size_t(image->nx), size_t(image->ny), size_t(image->nz)};
    volume.samples.resize(count);
    float* out = volume.samples.data();
    switch (image->datatype) {
        case DT_UINT8:
            Convert<uint8_t>(image->data, count, out);
            break;
        case DT_INT8:
            Convert<int8_t>(image->data, count, out);
            break;
        case DT_INT16:
            Convert<int16_t>(image->data, count, out);
            break;
        case DT_UINT16:
            Convert<uint16_t>(image->data, count, out);
            break;
        case DT_INT32:
            Convert<int32_t>(image->data, count, out);
            break;
        case DT_UINT32:
            Convert<uint32_t>(image->data, count, out);
            break;
        case DT_INT64:
            Convert<int64_t>(image->data, count, out);
            break;
        case DT_UINT64:
            Convert<uint64_t>(image->data, count, out);
            break;
        case DT_FLOAT32:
            Convert<float>(image->data, count, out);
            break;
        case DT_FLOAT64:
            Convert<double>(image->data, count, out);
            break;
        default:
            error = "has samples of NIfTI type " + std::to_string(image->datatype) + ", which cannot be imported";
            return false;
    }
    const float slope = header.scl_slope;
    const float intercept = header.scl_inter;
    const bool scaled =
        std::isfinite(slope) && slope != 0.0f && std::isfinite(intercept) && (slope != 1.0f || intercept != 0.0f);
    if (scaled) {
        for (float& v : volume.samples) {
            v = v * slope + intercept;
        }
    }
    info.description = "NIfTI";
    info.typeName = "unknown";
    for (const TypeName& t : typeNames) {
        if (t.code == image->datatype) {
            info.typeName = t.name;
            // Scaled integers are values of another kind; the value rule
            // must look at them as it would at floats.
            info.integerType =
                t.integer && (!scaled || (slope == std::floor(slope) && intercept == std::floor(intercept)));
        }
    }
    info.unsigned8Bit = image->datatype == DT_UINT8 && !scaled;
    info.signed8Bit = image->datatype == DT_INT8 && !scaled;
    return true;
}
