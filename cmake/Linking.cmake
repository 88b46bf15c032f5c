# How executables are linked. The build links some forty programs and test
# executables, each with full debug information, and the tests start many of
# them as child processes: linking time and start-up time add up.

# lld links these executables two to three times faster than the default
# linker; a machine without it links with the default.
include(CheckLinkerFlag)
check_linker_flag(CXX "-fuse-ld=lld" LUMRA_HAVE_LLD)
if(LUMRA_HAVE_LLD)
  add_link_options(-fuse-ld=lld)
endif()

# Each executable names only the shared libraries it uses, whichever
# compiler drives the link (Debian's g++ does this by default, clang++ does
# not): a stand-in that needs libc alone then loads libc alone, instead of
# libcurl, OpenSSL, libsystemd and their forty dependencies at every start.
add_link_options(LINKER:--as-needed)
# A sanitizer's runtime defines the crypt functions it intercepts, so a
# program seems not to need libcrypt, and the interceptor would then call
# nothing: sanitizer builds name libcrypt in every program.
if(LUMRA_SANITIZE)
  add_link_options(LINKER:--push-state,--no-as-needed,-lcrypt,--pop-state)
endif()
