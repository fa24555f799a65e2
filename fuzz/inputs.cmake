# fuzz_i2c: arbitrary panel packets (and camera-reported HUD values) through
# the I2C packet handler. fuzz_ftp_listing: arbitrary listing texts through
# the media listing's folder and file pickers.
pqw_add_fuzzer(i2c ${CMAKE_CURRENT_LIST_DIR}/inputs_i2c_fuzz.cc)
pqw_add_fuzzer(ftp_listing ${CMAKE_CURRENT_LIST_DIR}/inputs_ftp_listing_fuzz.cc)
