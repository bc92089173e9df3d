#pragma once

struct PacketWindowRequest;
class Window;

// Opens the route window a packet pane's "Trace" asks for: the request's list as parent and
// owner, its clicked address (if any) as the address to trace, its flag as the prefer-host flag.
Window* OpenRouteWindow(const PacketWindowRequest& request);
