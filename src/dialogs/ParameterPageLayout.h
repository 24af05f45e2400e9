#pragma once
#include <cstdint>
#include <span>

#include "params/ParameterTable.h"

// Where the parameter editor's pages put each parameter: the facts a page needs beyond the
// parameter table (control ids, the order of buttons on screen, captions the pages show without a
// language library where they differ from the table's texts, which other field enables a control).
// Limits, steps, formats, labels and choice texts stay in the parameter table; a page reads both.

enum class PageItemKind : uint8_t {
    Column,     // the following items go into the page's next column
    FrameBegin, // a frame around the following items, up to its FrameEnd
    FrameEnd,
    Choice,    // a radio group: a status box with the valve's value, one button per value
    Number,    // label, edit box, spin, and a box with the valve's value
    List,      // label, drop-down list, and a box with the valve's value
    ValveOnly, // a value the valve reports and nobody edits, with a note beside it
};

// A button of a radio group, in screen order; or a heading between the buttons.
constexpr int32_t HEADING = -1;
struct ButtonPlace {
    const char* id;                // control id, kept as the widget's object name
    int32_t value;                 // the value the button stores; HEADING for a heading
    unsigned text = 0;             // caption with a language library; 0: the choice's own text
    const char* caption = nullptr; // caption without a library where it differs from the text's
};

// A control that only makes sense for some values of another field.
struct Dependency {
    const char* on = nullptr; // the other field's name; nullptr: no dependency
    bool only = false;        // true: enabled only for the listed values; false: for all but those
    uint8_t values = 0;       // bit v stands for value v
};

struct PageItem {
    PageItemKind kind;
    const char* field = nullptr;    // the parameter table's name of the field
    const char* id = nullptr;       // the group box or label
    unsigned text = 0;              // caption with a language library; 0: the field's label text
    const char* caption = nullptr;  // caption without a library where it differs from the text's
    const char* statusId = nullptr; // the status box, or the box with the valve's value
    const char* editId = nullptr;   // the edit box or the drop-down list
    const char* spinId = nullptr;
    std::span<const ButtonPlace> buttons{};
    Dependency dependency{};
    bool hidden = false;   // created invisible, still refreshed, stored and enabled
    unsigned noteText = 0; // ValveOnly: the note beside the value
};

struct PageLayout {
    Page page;
    unsigned titleText;
    std::span<const PageItem> items;
};

// The eight pages in tab order.
std::span<const PageLayout, PAGE_COUNT> PageLayouts();
const PageLayout& LayoutOf(Page page);
