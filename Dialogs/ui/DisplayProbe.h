#pragma once
// Whether a PIN dialog can appear, decided without Qt: the module asks
// before it loads the dialog library (a host without a display never loads
// it), and the library asks again before it creates a Qt application.

#include <optional>
#include <string>

// The platform to ask Qt for when the module creates its application: an
// empty text for Qt's own choice, "wayland" for a Wayland-only session.
// Empty optional: no usable display (Qt would abort the whole process).
std::optional<std::string> ChooseDisplayPlatform();
