#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/CMultiThreadClass.h"

namespace halvora {

// One record of a stream file, as read back.
struct StreamRecord {
    std::vector<std::uint8_t> bytes;  // the payload; its size is the header's length
    std::uint8_t key_flag = 0;        // 0 or 1
    int kind = 0;                     // 0..255, passed on unchanged
};

// A stream file ("Audio Video", *.str): nothing but records, each the 4-byte
// packet header (16-bit length, key flag, kind) followed by its payload, exactly
// as the packets go to the viewers. The recorder writes one while the broadcast
// runs; the file sender reads it back in an endless loop.
//
// Every operation holds the object's own lock (taken on its own, never around a
// list or queue lock), so records written from the main thread and from the
// audio capture thread never mix their bytes.
class CVideo : public CMultiThreadClass {
public:
    enum class Mode { Write, Read };

    // Opens the file: Write creates or truncates it ("wb+"), Read opens it
    // read-only ("rb"). A file that cannot be opened is not reported; the object
    // then does nothing in every later call.
    CVideo(const std::string& path, Mode mode);
    // Closes the file; what was written is complete on disk only after this.
    ~CVideo();
    CVideo(const CVideo&) = delete;
    CVideo& operator=(const CVideo&) = delete;

    bool IsOpen() const;

    // Appends one record: header, then `length` bytes of `payload`. False, with
    // nothing written, when there is no file or the payload is longer than a
    // record can carry (65535 bytes), since its length would spill into the key
    // flag and kind bytes. Short writes (disk full) are not detected.
    bool WriteRecord(std::uint32_t length, const std::uint8_t* payload, std::uint8_t key_flag,
                     int kind);

    // The next record in file order; after the last one the first follows again.
    // Nothing when there is no file or the file does not hold one whole header.
    std::optional<StreamRecord> ReadRecord();

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;  // guarded by the object's lock
};

}  // namespace halvora
