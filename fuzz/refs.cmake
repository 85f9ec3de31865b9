ombrix_add_fuzzer(refs ombrix_core)
