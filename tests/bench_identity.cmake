# The optimisations the benchmarks measure give exactly the results of the algorithms as first
# written: the eye fold against a plain one, the device count against index-by-index lookups.
tarvex_test(tarvex_identity_tests
  bench/fold_identity_test.cpp
  bench/count_identity_test.cpp
)
