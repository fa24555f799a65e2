// Stand-ins until the shield and the media listing land.
#include "periph/media_listing.h"
#include "periph/shield.h"

void shield_init() {}
void shield_move_open() {}
void shield_move_closed() {}
void shield_auto_close() {}
int shield_state() { return 0; }
void media_listing_start() {}
void media_listing_request() {}
void media_listing_set_base(const char*) {}
