#include "controls/inspect/PacketTitle.h"

std::string PacketTitle::TitleBuild(const std::string& type, const std::string& size, const std::string& from,
                                    const std::string& fromPort, const std::string& to, const std::string& toPort,
                                    const std::string& dateTime) {
  std::string title = type + "( " + size + " ) " + from;
  if (!fromPort.empty()) title += ":" + fromPort;
  title += " -> " + to;
  if (!toPort.empty()) title += ":" + toPort;
  return title + " ( " + dateTime + " ) ";
}

std::string PacketTitle::TitleBuildFind(const std::string& type, const std::string& size, const std::string& page,
                                        const std::string& packet, const std::string& position) {
  return type + " ( " + size + " ) " + " Page # " + page + " - Packet # " + packet + " File Pos. " + position;
}
