#pragma once

// Shows the busy cursor over the application for the lifetime of the object:
// loading a volume or rebuilding textures can take seconds.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};
