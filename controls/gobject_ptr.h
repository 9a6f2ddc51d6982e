#pragma once

// Ownership of plain GObjects from C libraries without a C++ binding
// (libsoup): the reference is dropped when the holder goes, on every path out.

#include <glib-object.h>

#include <memory>

namespace pelko::ui {

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object != nullptr) g_object_unref(object);
    }
};

template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

}  // namespace pelko::ui
