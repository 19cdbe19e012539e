#pragma once

#include <string>

namespace halvora {

class CContact;

// What a connection thread asks of the main window. Every call runs on the main
// thread (the connection thread hands it over with Synchronize and waits).
class IConnectionHost {
public:
    virtual ~IConnectionHost() = default;

    // The main window is shown (false once closing has begun). While hidden,
    // viewer messages are acknowledged but not passed on and the connections
    // view is not refreshed.
    virtual bool IsVisible() const = 0;
    // The set of online contacts may have changed: rebuild the connections view.
    virtual void RefreshConnections() = 0;
    // A viewer's chat message: show it and echo it (contact may be null).
    virtual void PostViewerMessage(const std::string& text, CContact* contact) = 0;
};

}  // namespace halvora
