#pragma once

// Ownership of plain GObjects from C libraries (libsoup has no C++ binding):
// the reference is dropped when the holder goes, on every path out.

#include <glib-object.h>

#include <memory>

namespace pelko::service {

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};

template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Takes over a reference the caller already owns (a *_new() result).
template <class T>
GObjectPtr<T> AdoptGObject(T* object) {
    return GObjectPtr<T>(object);
}

}  // namespace pelko::service
