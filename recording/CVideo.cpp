#include "recording/CVideo.h"

#include <mutex>

#include "common/PacketHeader.h"

namespace halvora {

CVideo::CVideo(const std::string& path, Mode mode) {
    std::lock_guard guard(*this);
    file_.reset(std::fopen(path.c_str(), mode == Mode::Write ? "wb+" : "rb"));
}

CVideo::~CVideo() {
    std::lock_guard guard(*this);
    file_.reset();
}

bool CVideo::IsOpen() const {
    std::lock_guard guard(*this);
    return file_ != nullptr;
}

bool CVideo::WriteRecord(std::uint32_t length, const std::uint8_t* payload, std::uint8_t key_flag,
                         int kind) {
    std::lock_guard guard(*this);
    if (!file_ || length > kMaxPayload) return false;
    const auto header = PacketHeader::Make(length, key_flag, kind).Bytes();
    std::fwrite(header.data(), 1, header.size(), file_.get());
    if (length > 0) std::fwrite(payload, 1, length, file_.get());
    return true;
}

std::optional<StreamRecord> CVideo::ReadRecord() {
    std::lock_guard guard(*this);
    if (!file_) return std::nullopt;
    std::FILE* f = file_.get();

    std::uint8_t raw[4];
    if (std::fread(raw, 1, sizeof raw, f) != sizeof raw) {
        // The file plays in an endless loop: after the last record (or a
        // trailing piece of a header) the first record follows.
        std::rewind(f);
        if (std::fread(raw, 1, sizeof raw, f) != sizeof raw) return std::nullopt;
    }
    const PacketHeader header = PacketHeader::Parse(raw);

    StreamRecord record;
    record.key_flag = header.KeyFlag;
    record.kind = header.Kind;
    // At most 65535 bytes, whatever the file holds. A payload cut short by the
    // end of the file keeps the length its header gives, with the missing tail
    // zero-filled; the next read starts again at the first record.
    record.bytes.assign(header.Length, 0);
    if (header.Length > 0) std::fread(record.bytes.data(), 1, header.Length, f);
    return record;
}

}  // namespace halvora
