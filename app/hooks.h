// The calls that cross floors downwards-to-upwards: a lower subsystem keeps a
// record of function pointers, and app/ fills it once at start-up, the way a
// driver registers itself.
#pragma once

// Installs every hook record: the command workers' handlers (configuration,
// then camera) and their thread start ("pqw-command"), the viewer control hooks (motion, attitude)
// and the link's lock-button press. The daemon calls it first thing; so does every test binary
// (testing/test_main.cc), so units run wired as in the daemon.
void app_install_hooks();
