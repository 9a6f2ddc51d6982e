#pragma once

// One object exported on a D-Bus connection under one interface, described
// by its introspection XML. GDBus checks each call's arguments against that
// description before the owner sees it, so a handler reads them by their
// declared types without further checks.

#include <gio/gio.h>

#include <string>

namespace pelko {

class BusObject {
  public:
    class Owner {
      public:
        virtual void MethodCall(const char* method, GVariant* args,
                                GDBusMethodInvocation* invocation) = 0;
        virtual GVariant* Property(const char* name) = 0;

      protected:
        ~Owner() = default;
    };

    // xml describes one interface; it must outlive the object (a literal).
    BusObject(const char* xml, std::string path, Owner& owner);
    ~BusObject();
    BusObject(const BusObject&) = delete;
    BusObject& operator=(const BusObject&) = delete;

    // False, with the reason on stderr, when the path is taken.
    bool Export(GDBusConnection* bus);
    void Unexport();
    bool Exported() const { return id_ != 0; }
    // Sends the signal while exported; args (floating) are consumed either way.
    void Emit(const char* signal, GVariant* args = nullptr);
    // Tells that properties changed: changed is an a{sv} of their new values
    // (floating), consumed either way.
    void EmitPropertiesChanged(GVariant* changed);
    const std::string& Path() const { return path_; }

  private:
    GDBusNodeInfo* node_ = nullptr;
    std::string path_;
    Owner& owner_;
    GDBusConnection* bus_ = nullptr;
    unsigned id_ = 0;
};

}  // namespace pelko
