#pragma once

#include <cstdint>
#include <memory>

#include "platform/vcm/DriverInterface.h"
#include "platform/vcm/DriverLibrary.h"

namespace halvora::vcm {

// One open driver instance: the handle ICOpen returns. Destroying it closes the
// instance (the driver ends a compression still in progress).
//
// Not thread-safe: one owner uses it from one thread.
class Compressor {
public:
    // Takes over an instance that library's kDrvOpen returned.
    Compressor(std::shared_ptr<DriverLibrary> library, void* instance);
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // The raw message, for requests without a typed wrapper below.
    intptr_t SendMessage(uint32_t message, intptr_t p1, intptr_t p2);

    // Byte size of the output format block for this input (> 0), or an error code.
    intptr_t CompressGetFormatSize(const BitmapInfoHeader& input);
    // Fills the output block of at least CompressGetFormatSize bytes; kIcOk or an error code.
    intptr_t CompressGetFormat(const BitmapInfoHeader& input, void* output_block);
    intptr_t CompressBegin(const BitmapInfoHeader& input, const void* output_block);
    // One frame (ICCompress); kIcOk or an error code.
    intptr_t Compress(DriverCompressParams& params);
    intptr_t CompressEnd();

private:
    std::shared_ptr<DriverLibrary> library_;
    void* instance_;
};

}  // namespace halvora::vcm
