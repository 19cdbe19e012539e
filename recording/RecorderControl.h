#pragma once

#include <functional>
#include <string>

namespace halvora {

class MediaPump;

// What the Recorder's buttons do, without the window: the recorder only opens
// the file and raises the pump's switches; the pump does the writing.
class RecorderControl {
public:
    explicit RecorderControl(MediaPump& pump);

    // "Start record": creates (or truncates) the stream file, runs one header
    // step while the switches are still down (its pages go to the viewers only;
    // the header packets it adds leave with the next recorded audio), then
    // raises RecordMedia and RecordHeaderPages. Returns whether the file could be
    // created; when it could not, the recorder still goes into the recording
    // state and writes nothing, as the dialog expects.
    bool StartRecord(const std::string& file_name);
    // "Stop record": lowers both switches, waits 100 ms for a write already
    // under way, then closes the file. The recording is complete on return.
    void StopRecord();
    bool Recording() const { return recording_; }

private:
    MediaPump& pump_;
    bool recording_ = false;
};

}  // namespace halvora
