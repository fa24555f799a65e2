// The newest file on the camera's card, looked up over FTP on request.
#pragma once

#include <cstddef>

void media_listing_start();
void media_listing_request();
// Base address of the card listing (--camera-ftp).
void media_listing_set_base(const char* url);
