# The end-to-end tests labelled `slow` besides `e2e` (tests/CMakeLists.txt):
# read by CTest after the discovered tests, so the names exist here.
foreach(name
    RunFolder.ASecondRunIsRefusedWhileTheFirstGoesOn
    RunFolder.RefusedAndStoppedRunsLeaveNoEarlierResult
    RunFolder.AReaderOfStandardOutputThatGoesAwayStopsTheRun)
  set_tests_properties(${name} PROPERTIES LABELS "e2e;slow")
endforeach()
