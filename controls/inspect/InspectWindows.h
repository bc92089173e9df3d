#pragma once

struct PacketWindowRequest;
class Window;

// Opens the inspection window a packet pane command asks for: the packet view, the feed or the
// compare window (initialised, owned by the caller from here on), or adds the selected packet
// to the open compare window ("Compare Add", which opens nothing). Null for every other kind of
// request, and when the window could not be created.
Window* OpenInspectWindow(const PacketWindowRequest& request);
