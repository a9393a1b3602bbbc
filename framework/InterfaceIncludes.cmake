# Run by the build (cmake -P) over the platform interfaces: they include the standard library, Qt and
# QCoro, base/, one another, and the two value types they carry (a cancel token, a modifier set), and
# nothing of the logic or the backends, so an interface never drags a desktop library or the logic in.
#   -DFILES=<a|b|...> the interface sources, -DSTAMP=<file> written when all pass.
string(REPLACE "|" ";" files "${FILES}")
set(allowed_quoted "^(base/|platform/|async/CancelToken\\.h$|settings/ShortcutModifiers\\.h$|[^/]+$)")
set(allowed_angled "^(Q[A-Za-z]*|qcoro/.*|[a-z_]+)$")
set(errors "")
foreach(file IN LISTS files)
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(header "${CMAKE_MATCH_1}")
      if(NOT header MATCHES "${allowed_quoted}" OR header MATCHES "^platform/linux/")
        string(APPEND errors "  ${file}: ${header}\n")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
      set(header "${CMAKE_MATCH_1}")
      if(NOT header MATCHES "${allowed_angled}")
        string(APPEND errors "  ${file}: <${header}>\n")
      endif()
    endif()
  endforeach()
endforeach()
if(errors)
  message(FATAL_ERROR "A platform interface includes what only the logic or a backend may "
    "(interfaces take the standard library, Qt, base/ and other interfaces):\n${errors}")
endif()
file(TOUCH "${STAMP}")
