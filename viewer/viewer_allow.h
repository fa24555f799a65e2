// Which sources may use the viewer port and the DJI Go bridge. The viewer
// protocol has no authentication and viewer apps rely on it as it is, so by
// default everyone on the LAN may (an empty list). --viewer-allow narrows it
// to a list of IPv4 networks.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <vector>

struct ViewerAllowNet {
  uint32_t network;  // host byte order, host bits cleared
  uint32_t mask;     // host byte order
};

// "A.B.C.D[/N][,A.B.C.D[/N]...]", blanks around items allowed. False with
// *error naming the bad item; an empty text is an empty list.
bool viewer_allow_parse(const char* text, std::vector<ViewerAllowNet>* out, std::string* error);
// Replaces the list (an empty one admits everyone).
void viewer_allow_set(const std::vector<ViewerAllowNet>& nets);
// Whether a source may be heard. A refused source is logged the first time
// it tries `what` (a bounded number of sources is remembered).
bool viewer_allow_admits(const in_addr& source, const char* what);
