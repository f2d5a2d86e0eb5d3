#pragma once
// The window's parts as tests and benchmarks reach them: by the object name
// the window gives each, so the window keeps its widgets to itself.
#include <QObject>
#include <QString>
#include <stdexcept>
#include <string>

namespace korvane::test {

// The window's child of type T named `name`; throws when there is none (a
// test then fails with the name instead of crashing).
template <class T>
T* Part(const QObject& window, const char* name) {
    T* part = window.findChild<T*>(QString::fromUtf8(name));
    if (part == nullptr)
        throw std::logic_error(std::string("the window has no part named ") + name);
    return part;
}

}  // namespace korvane::test
