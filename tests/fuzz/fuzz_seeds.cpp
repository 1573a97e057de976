// Writes the fuzz target's seeds: a small volume in every format the import
// reads, plain and compressed, each behind the byte that names its file.
#include <itkGDCMImageIO.h>
#include <itkImage.h>
#include <itkImageFileWriter.h>
#include <itkMetaDataObject.h>
#include <itkMetaImageIO.h>
#include <itkNiftiImageIO.h>
#include <itkNrrdImageIO.h>

#include <cstdio>
#include <filesystem>
#include <array>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzNames.h"

namespace {
using Image = itk::Image<int16_t, 3>;

Image::Pointer MakeImage(unsigned depth)
{
    auto image = Image::New();
    image->SetRegions(Image::RegionType(Image::SizeType{{5, 4, depth}}));
    image->Allocate();
    image->SetSpacing(Image::SpacingType(std::array<double, 3>{0.5, 0.5, 2.0}.data()));
    int16_t value = -1000;
    for (auto* p = image->GetBufferPointer(); p != image->GetBufferPointer() + 20 * depth; ++p) {
        *p = value;
        value = int16_t(value + 37);
    }
    return image;
}

void Seed(const Image::Pointer& image, const std::string& folder, uint8_t selector, itk::ImageIOBase* io, bool compress)
{
    const std::string written = folder + "/written-" + FuzzInputName(selector);
    auto writer = itk::ImageFileWriter<Image>::New();
    writer->SetInput(image);
    writer->SetImageIO(io);
    writer->SetFileName(written);
    writer->SetUseCompression(compress);
    writer->Update();
    std::ifstream in(written, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream out(folder + "/seed-" + std::to_string(selector) + (compress ? "z" : ""), std::ios::binary);
    out.put(char(selector));
    out << bytes;
    std::filesystem::remove(written);
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::filesystem::create_directories(folder);
    const auto image = MakeImage(3);
    for (const bool compress : {false, true}) {
        Seed(image, folder, compress ? 1 : 0, itk::NiftiImageIO::New(), compress);
        Seed(image, folder, 2, itk::NrrdImageIO::New(), compress);
        Seed(image, folder, 4, itk::MetaImageIO::New(), compress);
    }
    // DICOM holds one slice a file, of a modality.
    const auto slice = MakeImage(1);
    itk::EncapsulateMetaData<std::string>(slice->GetMetaDataDictionary(), "0008|0060", "CT");
    Seed(slice, folder, 6, itk::GDCMImageIO::New(), false);
    return 0;
}
