#pragma once
#include <string>

#include "platform/CriticalSection.h"

class ListBox;
struct _TraceRoutePoint;

// The route window's list of route points: its lines and the _TraceRoutePoint records hung on
// them. The tracer thread adds lines and fills in whois texts while the user-interface thread
// selects lines and shows those texts, so every use of a record goes through here, under one lock.
class TraceRouteList {
 public:
  static constexpr char kDefaultDetail[] = "Not Available - Double click this item to retrieve Icmp vitals.";
  static constexpr int kDefaultDetailSize = 128;  // bytes of the first detail block

  // What a route point holds, copied out of its record.
  struct Point {
    bool valid = false;  // false for a status line or an index past the end
    int hop = 0;
    std::string address;
    std::string hostName;
  };

  explicit TraceRouteList(ListBox* list) : m_list(list) {}
  ~TraceRouteList() { Clear(); }
  TraceRouteList(const TraceRouteList&) = delete;
  TraceRouteList& operator=(const TraceRouteList&) = delete;

  // A route point line with a new record (the default detail text), selected.
  void AddPoint(const std::string& line, int hop, const std::string& address, const std::string& hostName);
  // A status line ("Trace Complete.", ...) without a record, selected.
  void AddStatusLine(const std::string& line);
  // Frees every record and empties the list.
  void Clear();

  int Count() const;
  void Select(int index);
  Point PointAt(int index) const;
  // The line's detail text; empty for a status line.
  std::string Detail(int index) const;
  // Replaces the line's detail text; nothing for a status line.
  void SetDetail(int index, const std::string& text);

 private:
  _TraceRoutePoint* RecordAt(int index) const;

  ListBox* m_list;
  mutable CriticalSection m_lock;
};
