# zorvane_embed_files(<target> NAME <name> BASE <dir> FILES <files...>)
# Embeds the files in <target> as Qt resources named ":/<path relative to BASE>"
# (wave sounds for WaveResource::path). The target must be an executable.
function(zorvane_embed_files target)
  cmake_parse_arguments(ARG "" "NAME;BASE" "FILES" ${ARGN})
  qt_add_resources(${target} ${ARG_NAME} PREFIX "/" BASE "${ARG_BASE}" FILES ${ARG_FILES})
endfunction()

# zorvane_generate_tone(OUTPUT <file.wav> TONES <freq:ms>...)
# Writes a short wave file of sine tones (tools/tonegen) at build time.
function(zorvane_generate_tone)
  cmake_parse_arguments(ARG "" "OUTPUT" "TONES" ${ARGN})
  add_custom_command(OUTPUT "${ARG_OUTPUT}"
    COMMAND /usr/bin/python3 "${PROJECT_SOURCE_DIR}/tools/tonegen/tonegen.py" "${ARG_OUTPUT}" ${ARG_TONES}
    DEPENDS "${PROJECT_SOURCE_DIR}/tools/tonegen/tonegen.py"
    COMMENT "tone ${ARG_OUTPUT}" VERBATIM)
endfunction()
