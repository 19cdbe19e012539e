#pragma once

// The binary contract between the video compression manager and a codec driver.
//
// A driver is a shared library that exports one C function, HalvoraDriverProc.
// The manager sends it messages in the manner of a classic driver procedure:
// open an instance, ask for the output format, begin, compress frames, end,
// close. Everything that crosses the boundary is a plain struct of fixed-width
// fields, so driver and manager may be built separately; each struct carries
// its own size so that a mismatch is refused instead of misread.

#include <stdint.h>

namespace halvora::vcm {

// Four characters as a 32-bit code, the first character in the lowest byte.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<unsigned char>(a)) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24);
}

inline constexpr uint32_t kTypeVideo = MakeFourCC('v', 'i', 'd', 'c');

// Bumped whenever a struct or message below changes meaning.
inline constexpr uint32_t kDriverAbiVersion = 1;

// The exported entry point's name and type.
inline constexpr const char* kDriverProcName = "HalvoraDriverProc";
using DriverProc = intptr_t (*)(void* instance, uint32_t message, intptr_t p1, intptr_t p2);

// The 40-byte bitmap info header in its published layout (all fields
// little-endian on the platforms we build for). A positive height means the rows
// are stored bottom-up; compression 0 is uncompressed RGB.
struct BitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bit_count = 0;
    uint32_t compression = 0;
    // Uncompressed: bytes of one picture. Compressed: bytes of the last
    // compressed frame, set by the driver after every successful compression.
    uint32_t size_image = 0;
    int32_t x_pels_per_meter = 0;
    int32_t y_pels_per_meter = 0;
    uint32_t clr_used = 0;
    uint32_t clr_important = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "the bitmap info header is 40 bytes");

inline constexpr uint32_t kCompressionRgb = 0;

// Open modes (p2 of kDrvOpen carries DriverOpenParams with one of these).
enum : uint32_t {
    kModeCompress = 1,
};

// Messages. p1/p2 are given per message; instance is what kDrvOpen returned.
enum : uint32_t {
    // instance: null; p1: unused; p2: const DriverOpenParams*.
    // Returns the new instance (non-zero) or 0 when the driver cannot open.
    kDrvOpen = 1,
    // Frees the instance (ending compression first if it was begun). Returns kIcOk.
    kDrvClose = 2,
    // p1: const BitmapInfoHeader* input; p2: output block or 0.
    // With p2 == 0: returns the byte size of the output block (> 0), or an error.
    // With p2: fills the block (which must be at least that size) and returns kIcOk.
    kIcmCompressGetFormat = 0x4004,
    // p1: const BitmapInfoHeader* input; p2: const BitmapInfoHeader* output block.
    // Prepares to compress frames of that input; the driver reads its settings here.
    kIcmCompressBegin = 0x4007,
    // p1: DriverCompressParams*; p2: sizeof(DriverCompressParams).
    kIcmCompress = 0x4008,
    // Ends compression; the instance may be begun again.
    kIcmCompressEnd = 0x4009,
};

// Results of the kIcm* messages (kIcmCompressGetFormat without a block returns a size).
enum : intptr_t {
    kIcOk = 0,
    kIcErrUnsupported = -1,
    kIcErrBadFormat = -2,
    kIcErrMemory = -3,
    kIcErrInternal = -4,
    kIcErrBadFlags = -5,
    kIcErrBadParam = -6,
    kIcErrBadSize = -7,
    kIcErrError = -100,
};

struct DriverOpenParams {
    uint32_t struct_size = sizeof(DriverOpenParams);
    uint32_t abi_version = kDriverAbiVersion;
    uint32_t type = 0;
    uint32_t handler = 0;
    uint32_t mode = 0;
};

// DriverCompressParams::flags (in).
inline constexpr uint32_t kCompressKeyFrame = 0x00000001;  // force a key frame
// *DriverCompressParams::frame_flags (out).
inline constexpr uint32_t kFrameFlagKeyFrame = 0x00000010;

// One frame to compress (kIcmCompress).
struct DriverCompressParams {
    uint32_t struct_size = sizeof(DriverCompressParams);
    uint32_t flags = 0;                          // in: kCompressKeyFrame or 0
    BitmapInfoHeader* output_format = nullptr;   // in/out: size_image set on success
    void* output = nullptr;                      // out: the compressed frame
    uint32_t output_capacity = 0;                // in: bytes available at output
    const BitmapInfoHeader* input_format = nullptr;
    const void* input = nullptr;                 // in: one picture in input_format
    uint32_t* chunk_id = nullptr;                // out (may be null): container chunk id
    uint32_t* frame_flags = nullptr;             // out (may be null): kFrameFlagKeyFrame or 0
    int32_t frame_number = 0;                    // in: the caller's frame counter
    uint32_t desired_frame_size = 0;             // in: 0 = no per-frame size target
    uint32_t quality = 0;                        // in: 0 ... 10000
    const BitmapInfoHeader* previous_format = nullptr;  // in: unused by drivers that keep
    const void* previous = nullptr;                     //     their own reference frame
};

}  // namespace halvora::vcm

// What every driver exports (see DriverProc above). Drivers are built with hidden
// visibility; this declaration keeps the one entry point visible.
extern "C" __attribute__((visibility("default"))) intptr_t HalvoraDriverProc(
    void* instance, uint32_t message, intptr_t p1, intptr_t p2);
