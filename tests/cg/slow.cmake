# Included by ctest after the discovered cases: the ones that time something,
# which a loaded or instrumented build cannot judge, get the slow label beside
# their executable's. A name here that no longer exists is ignored.
set_tests_properties(cg_opt_tests.LargePrograms.optimizeTakesTimeLinearInTheirSize PROPERTIES LABELS "unit;slow")
set_tests_properties(cg_arb_tests.ArbCounts.aVeryLargeFunctionIsEmittedInAboutASecond PROPERTIES LABELS "gl;slow")
