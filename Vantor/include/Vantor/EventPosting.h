#pragma once

#include "ScrollCore/GestureMotion.h"
#include "ScrollCore/ScrollMotion.h"

namespace vantor {

// Where the Scroller's steps go: the system (a virtual input device), a recording, or the
// settings window's preview canvas.
class EventPosting {
public:
    virtual ~EventPosting() = default;
    virtual void post(const scroll::ScrollStep& step) = 0;
    virtual void post(const scroll::GestureStep& step, scroll::GestureKind kind) = 0;
};

} // namespace vantor
