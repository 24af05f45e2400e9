#pragma once
#include <cstdint>
#include <string>

// How the engine reaches the window. Post returns at once; Send returns after the window has
// handled the notification (and at once when the window is closing).
class INotifier {
public:
    virtual ~INotifier() = default;
    virtual void Post(uint32_t code, intptr_t value) = 0;
    virtual void Send(uint32_t code, intptr_t value) = 0;
    // A message box the engine itself shows (unknown request or step, firmware version 0).
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
};
