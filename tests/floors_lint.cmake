# No product include climbs the floors (PQW_FLOORS, bottom first).
string(JOIN " " pqw_floors_text ${PQW_FLOORS})
add_test(NAME floors_lint COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/floors_lint_test.sh
                                  ${CMAKE_SOURCE_DIR} "${pqw_floors_text}")
set_tests_properties(floors_lint PROPERTIES LABELS lint)
