# fuzz_djigo: the DJI Go bridge's receive body onto a simulated bus, and
# camera frames back to the app.
pqw_add_fuzzer(djigo ${CMAKE_CURRENT_LIST_DIR}/djigo_fuzz.cc)
