# ipmod_shipped_link(TARGET): links a Windows executable the way the shipped ipmod.exe is linked.
# The C++ library's fatal conditions end in the runtime error report and every allocation comes
# from the process heap (the objects of ipmod_library_faults and ipmod_allocator, which take the
# place of the library's own); the whole program is optimised across objects at link time;
# unused sections are dropped; no symbols, no time stamp or checksum, so that two builds of one
# commit are the same bytes. The program and the probe that shows its runtime error report
# (tests/runtime) both use it: what the probe proves holds for the program's own link.
function(ipmod_shipped_link target)
  target_link_libraries(${target} PRIVATE ipmod_allocator ipmod_library_faults)
  target_link_options(${target} PRIVATE -flto -flto-partition=one -s -Wl,--gc-sections
                      -Wl,--no-insert-timestamp)
endfunction()
