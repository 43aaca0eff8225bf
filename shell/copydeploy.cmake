# Copies the deployment folder into the program's folder, replacing files that differ.
# It runs when a file under deploy/ changed, so settings saved in the program's folder
# (the chosen background, the offline cache) last until the deployment files change.
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*)
foreach(f ${files})
  if(f MATCHES "^tools/" OR f MATCHES "README")
    continue()
  endif()
  get_filename_component(dir ${DST}/${f} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  file(COPY_FILE ${SRC}/${f} ${DST}/${f} ONLY_IF_DIFFERENT)
endforeach()
