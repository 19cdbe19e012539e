#pragma once

#include <functional>
#include <string>

namespace halvora {

class MediaPump;

// What the File sender's buttons do, without the window: it opens the file
// reader, switches the live media off and the file timer on; the pump's file
// step does the sending.
class FileSenderControl {
public:
    struct Timers {
        std::function<void(bool)> set_file_timer;    // Timer3, 50 ms
        std::function<void(bool)> set_header_timer;  // Timer1, 5000 ms
    };

    FileSenderControl(MediaPump& pump, Timers timers);

    enum class StartResult { Started, EmptyName, Missing };

    // "Start send": a missing file changes nothing (the window shows "The file
    // <name> does not exist."). Otherwise the live picture and sound stop
    // reaching viewers, the file is opened and replayed one record per tick, the
    // header timer stops, and the name is stored as FileSend in the codec key (a
    // failure there is logged and changes nothing else).
    StartResult StartSend(const std::string& file_name);
    // "Stop send": the file timer stops, the file closes and the live media
    // reach the viewers again. The header timer stays off until a camera is made
    // active again.
    void StopSend();
    bool Sending() const { return sending_; }

    static std::string MissingFileMessage(const std::string& file_name);

private:
    MediaPump& pump_;
    Timers timers_;
    bool sending_ = false;
};

}  // namespace halvora
