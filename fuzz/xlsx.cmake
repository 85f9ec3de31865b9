ombrix_add_fuzzer(xlsx ombrix_io)
