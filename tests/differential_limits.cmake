# Read by CTest after the discovered GoogleTest cases: a time limit for the
# differential checks, which run about 20 s in a Release build and several
# times that under sanitizers or an emulator.
set_tests_properties(Differential.EveryKernelSearchAndThreadCountKeepsTheRule
                     Differential.ThePassWhileTheRasterArrivesKeepsTheRule
                     Differential.TheProgramOnRandomFilesKeepsTheRule PROPERTIES TIMEOUT 600)
