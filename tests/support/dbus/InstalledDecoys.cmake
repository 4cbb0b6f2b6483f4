# What an installed package would offer a test bus, for the check that no test bus takes it.
#   cmake -DMODE=plant -DROOT=<folder> -DNAMES=<a;b> -DTOUCH=<touch> -P InstalledDecoys.cmake
#     writes <ROOT>/share/dbus-1/services/<name>.service for each bus name, each starting a program
#     that only leaves <ROOT>/marks/<name>, and removes the marks of an earlier run;
#   cmake -DMODE=check -DROOT=<folder> -P InstalledDecoys.cmake
#     fails, naming them, when any mark is there.
if(MODE STREQUAL "plant")
    file(REMOVE_RECURSE ${ROOT}/marks ${ROOT}/share)
    file(MAKE_DIRECTORY ${ROOT}/marks)
    foreach(name IN LISTS NAMES)
        file(WRITE ${ROOT}/share/dbus-1/services/${name}.service
            "[D-BUS Service]\nName=${name}\nExec=\"${TOUCH}\" \"${ROOT}/marks/${name}\"\n")
    endforeach()
elseif(MODE STREQUAL "check")
    file(GLOB marks RELATIVE ${ROOT}/marks ${ROOT}/marks/*)
    if(marks)
        list(JOIN marks ", " names)
        message(FATAL_ERROR "a test bus started the installed service of ${names} "
            "(from ${ROOT}/share/dbus-1/services) instead of only the build's own")
    endif()
    message(STATUS "no test bus started an installed service")
else()
    message(FATAL_ERROR "MODE must be plant or check")
endif()
