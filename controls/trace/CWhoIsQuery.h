#pragma once
#include <string>

#include "common/WinTypes.h"
#include "platform/EventSignal.h"

// A whois client (TCP port 43): one query per connection, the answer read until the server
// closes the connection. Every wait is bounded and ends at once when the client is cancelled.
class CWhoIsQuery {
 public:
  static constexpr char kDefaultServer[] = "whois.iana.org";  // the public referral service
  static constexpr unsigned short kPort = 43;
  static constexpr int kReadPiece = 100;       // bytes per read
  static constexpr int kReadWaitMs = 100;      // one empty read
  static constexpr int kReadWaits = 30;        // empty reads in a row before giving up
  static constexpr int kConnectWaitMs = 10000;
  static constexpr std::size_t kMaxAnswer = 65535;  // characters kept of an answer
  static constexpr std::size_t kMaxText = 65533;    // characters of converted text
  static constexpr char kNotAvailable[] = " - Information not available";
  static constexpr char kTimeout[] = "Timeout";

  CWhoIsQuery() = default;
  CWhoIsQuery(const CWhoIsQuery&) = delete;
  CWhoIsQuery& operator=(const CWhoIsQuery&) = delete;

  // The server by name, resolved now; "name:port" picks another port than 43. FALSE (and no
  // address) when the name does not resolve, or when Cancel ends the wait for its lookup.
  BOOL SetServer(const std::string& server);
  const std::string& GetServer() const { return m_server; }
  const std::string& GetAddress() const { return m_address; }
  unsigned short GetPort() const { return m_port; }

  // prefix + " " + text + CR LF, or text + CR LF without a prefix.
  static std::string BuildQuery(const std::string& prefix, const std::string& text);
  // Sends the query to the server and returns its answer (at most kMaxAnswer characters); empty
  // when the server cannot be reached, the query cannot be sent, nothing came or it was cancelled.
  std::string Query(const std::string& query);
  // Every bare LF becomes CR LF (a CR LF stays as it is), the result cut to kMaxText characters (a line break is never split).
  static std::string ToCrLf(const std::string& answer);

  // From any thread: ends the server lookup or query in progress now, and every later one.
  void Cancel() { m_cancel.Set(); }

 private:
  // Waits up to ms for the socket to be ready for events; false on timeout or cancel.
  bool WaitFor(int socket, short events, int ms);

  std::string m_server = kDefaultServer;
  std::string m_address;
  unsigned short m_port = kPort;
  EventSignal m_cancel;
};
