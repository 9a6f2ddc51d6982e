#pragma once

// Fetches the signature that the service keeps beside the program file. It
// is a few hundred bytes and is held in memory; an answer longer than any
// signature is cut off and refused rather than read to its end.

#include <libsoup/soup.h>

#include <functional>
#include <memory>
#include <string>

#include "controls/gobject_ptr.h"

namespace pelko::updater {

class SignatureFetch {
  public:
    enum class Result { Fetched, Missing, TooLarge, Cancelled };
    using Done = std::function<void(Result, std::string text)>;

    SignatureFetch();
    // A fetch still running is cancelled and reports nothing.
    ~SignatureFetch();
    SignatureFetch(const SignatureFetch&) = delete;
    SignatureFetch& operator=(const SignatureFetch&) = delete;

    // Reports once, from the main loop.
    void Start(const std::string& url, Done done);
    // Ends the running fetch with Cancelled.
    void Cancel();
    bool Running() const { return pending_ != nullptr; }

    struct Pending;

  private:
    ui::GObjectPtr<SoupSession> session_;
    std::shared_ptr<Pending> pending_;
};

}  // namespace pelko::updater
