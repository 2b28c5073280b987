# The hook DLL and the sample tray program must be built before this test runs.
add_dependencies(${KELM_TEST_TARGET} kelmmenuspy kelmtraysample)
