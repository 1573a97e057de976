#pragma once
// Scans written by the image library's own writers, for the tests of the
// import and of opening scans in the program.
#include <itkImage.h>
#include <itkImageFileWriter.h>

#include <array>
#include <functional>
#include <string>

template <typename T>
using Volume = itk::Image<T, 3>;

template <typename T>
typename Volume<T>::Pointer MakeVolume(std::array<size_t, 3> size, std::array<double, 3> spacing,
                                       const std::function<T(size_t, size_t, size_t)>& value)
{
    auto image = Volume<T>::New();
    typename Volume<T>::SizeType extent;
    typename Volume<T>::SpacingType step;
    for (int d = 0; d < 3; ++d) {
        extent[d] = size[d];
        step[d] = spacing[d];
    }
    image->SetRegions(typename Volume<T>::RegionType(extent));
    image->SetSpacing(step);
    image->Allocate();
    for (size_t z = 0; z < size[2]; ++z) {
        for (size_t y = 0; y < size[1]; ++y) {
            for (size_t x = 0; x < size[0]; ++x) {
                image->SetPixel({{long(x), long(y), long(z)}}, value(x, y, z));
            }
        }
    }
    return image;
}

template <typename Image>
void Write(const typename Image::Pointer& image, const std::string& path, itk::ImageIOBase* io, bool compress = false)
{
    auto writer = itk::ImageFileWriter<Image>::New();
    writer->SetInput(image);
    writer->SetFileName(path);
    writer->SetImageIO(io);
    writer->SetUseCompression(compress);
    writer->Update();
}
