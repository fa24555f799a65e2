// The newest file on the camera's card, looked up over FTP on request.
//
// The camera serves its card over FTP at the far end of the usb0 link. The
// base address defaults to "ftp://192.168.42.2/DCIM/" (--camera-ftp URL
// changes it; a missing final slash is added). A lookup lists the base
// (name-only, NLST), takes the last folder whose name contains "MEDIA",
// lists that folder and publishes "folder/file" of its last name in HudBlock
// bytes 2682..2721 (39 characters at most, NUL; all zero when nothing found).
//
// Worked example (listings as the camera sends them, CR LF line ends):
//   "100MEDIA\r\n101MEDIA\r\nMISC\r\n"      -> folder "101MEDIA"
//   "DJI_0001.JPG\r\nDJI_0002.MOV\r\n"      -> HudBlock "101MEDIA/DJI_0002.MOV"
//   "MISC\r\n" or a folder without files   -> "FTP: empty result", 40 zero bytes
//
// media_listing_request only sets a flag; the listing thread looks at it once
// a second, so several requests within a second give a single lookup.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kMediaListingSize = 65000;
inline constexpr size_t kMediaNameSize = 100;

void media_listing_init();
// Thread body: a lookup when one was requested, once a second, forever.
void* media_listing_loop(void*);
void media_listing_request();
// Base address of the card listing (--camera-ftp).
void media_listing_set_base(const char* url);

// Fills out (NUL-terminated, at most size-1 bytes) with the name-only listing
// of the directory at url; on failure with what arrived before it.
void ftp_list(const char* url, char* out, size_t size);
// One lookup on the caller's thread (the listing thread's work).
void media_listing_lookup();

// Listing parsers (lines end in LF or CR LF; empty lines are skipped). Both
// copy at most size-1 bytes and return the length; 0 when none.
// The last line containing "MEDIA":
size_t media_pick_folder(const char* listing, char* out, size_t size);
// The last non-empty line:
size_t media_last_name(const char* listing, char* out, size_t size);

// Tests: lookups run since process start.
uint32_t media_listing_lookups();
