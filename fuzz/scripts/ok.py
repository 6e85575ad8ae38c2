fuzz_script_ran = True
