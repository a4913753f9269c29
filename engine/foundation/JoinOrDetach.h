#pragma once

#include <thread>

// Ends the ownership of a thread object whose owner is shared with the thread itself: joins
// it, or detaches it when the last reference is dropped on that thread, which cannot join
// itself. Nothing for a thread that is not joinable.
void JoinOrDetach(std::thread& thread);
