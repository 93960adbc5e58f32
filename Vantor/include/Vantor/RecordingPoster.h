#pragma once

#include "Vantor/EventPosting.h"

#include <functional>
#include <optional>
#include <string>

namespace vantor {

// Appends one JSON object per step to a file instead of posting anything:
//   {"t": 0.125, "scroll": {"phase": "began", "x": 0, "y": -3}}
//   {"t": 0.133, "gesture": "zoom", "phase": "changed", "amount": 0.0123}
// "t" is seconds since the poster was made. Chosen with VANTOR_EVENTS=record:PATH, for end-to-end
// tests and for users who want to see what would be posted.
class RecordingPoster final : public EventPosting {
public:
    using Clock = std::function<double()>;
    // Opens (creates or appends to) the file; on failure returns nothing and sets `error`.
    static std::optional<RecordingPoster> open(const std::string& path, Clock now,
                                               std::string& error);
    RecordingPoster(RecordingPoster&& other) noexcept;
    RecordingPoster& operator=(RecordingPoster&&) = delete;
    ~RecordingPoster() override;

    void post(const scroll::ScrollStep& step) override;
    void post(const scroll::GestureStep& step, scroll::GestureKind kind) override;

    // The poster that VANTOR_EVENTS asks for ("record:PATH"), or nothing for any other value.
    static std::optional<std::string> recordingPath(const char* environmentValue);

private:
    RecordingPoster(int fd, Clock now);
    void writeLine(const std::string& line);

    int fd_;
    Clock now_;
    double start_;
};

} // namespace vantor
