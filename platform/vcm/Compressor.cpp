#include "platform/vcm/Compressor.h"

namespace halvora::vcm {

Compressor::Compressor(std::shared_ptr<DriverLibrary> library, void* instance)
    : library_(std::move(library)), instance_(instance) {}

Compressor::~Compressor() {
    library_->Send(instance_, kDrvClose, 0, 0);
}

intptr_t Compressor::SendMessage(uint32_t message, intptr_t p1, intptr_t p2) {
    return library_->Send(instance_, message, p1, p2);
}

intptr_t Compressor::CompressGetFormatSize(const BitmapInfoHeader& input) {
    return SendMessage(kIcmCompressGetFormat, reinterpret_cast<intptr_t>(&input), 0);
}

intptr_t Compressor::CompressGetFormat(const BitmapInfoHeader& input, void* output_block) {
    if (output_block == nullptr) {
        return kIcErrBadParam;
    }
    return SendMessage(kIcmCompressGetFormat, reinterpret_cast<intptr_t>(&input),
                       reinterpret_cast<intptr_t>(output_block));
}

intptr_t Compressor::CompressBegin(const BitmapInfoHeader& input, const void* output_block) {
    return SendMessage(kIcmCompressBegin, reinterpret_cast<intptr_t>(&input),
                       reinterpret_cast<intptr_t>(output_block));
}

intptr_t Compressor::Compress(DriverCompressParams& params) {
    params.struct_size = sizeof(DriverCompressParams);
    return SendMessage(kIcmCompress, reinterpret_cast<intptr_t>(&params),
                       static_cast<intptr_t>(sizeof(DriverCompressParams)));
}

intptr_t Compressor::CompressEnd() {
    return SendMessage(kIcmCompressEnd, 0, 0);
}

}  // namespace halvora::vcm
