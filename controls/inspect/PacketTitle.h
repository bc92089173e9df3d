#pragma once
#include <string>

// The window titles of the packet windows, built from the row a packet was opened from.
class PacketTitle {
 public:
  // From the seven texts of a packet monitor row ("Type", "Size", "From", "Port", "To", "Port",
  // "Date        Time"): TCP( 60 ) 10.0.0.1:1025 -> 10.0.0.2:80 ( date time ) , a port only
  // when its text is not empty.
  static std::string TitleBuild(const std::string& type, const std::string& size, const std::string& from,
                                const std::string& fromPort, const std::string& to, const std::string& toPort,
                                const std::string& dateTime);
  // From five texts of a packet log search row: type ( size )  Page # p - Packet # n File Pos. f
  static std::string TitleBuildFind(const std::string& type, const std::string& size, const std::string& page,
                                    const std::string& packet, const std::string& position);
};
