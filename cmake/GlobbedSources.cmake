# Sources are globbed (CONFIGURE_DEPENDS): a new or removed file makes the
# next build configure again. moc and uic, however, run again only when a file
# they looked at last time changed, so a new header with Q_OBJECT would be
# left out of the target's moc code (and its link fail on the missing
# meta-object). kelvarin_moc_follows_sources(TARGET SOURCES...) writes the
# source list into a file of the build tree and reads it as part of the
# directory's CMake files; the automatic moc and uic step depends on those, so
# it runs again exactly when the list changed. The file is written only when
# its text changes.
function(kelvarin_moc_follows_sources target)
    set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_sources.cmake)
    list(JOIN ARGN "\n#   " listed)
    file(CONFIGURE OUTPUT ${list_file} @ONLY
        CONTENT "# Written by kelvarin_moc_follows_sources: the sources of @target@.\n#   @listed@\n")
    include(${list_file})
endfunction()
