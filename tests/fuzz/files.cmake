# Fuzz targets of the files of the root and the helper programs' outputs (see CMakeLists.txt).
corvid_fuzz(setup_txt SOURCES setup_txt_fuzz.cpp LIBS corvid_core corvid_platform)
corvid_fuzz(band_table SOURCES band_table_fuzz.cpp LIBS corvid_bands corvid_amp corvid_core)
corvid_fuzz(tune_memory SOURCES tune_memory_fuzz.cpp LIBS corvid_atu corvid_bands corvid_core)
# plotter.cpp is built into the target itself: corvid_scope's scope_view.cpp does not
# build with clang (a constexpr copy of a plain const array), and the plotter needs none of it.
corvid_fuzz(root_files SOURCES root_files_fuzz.cpp ${PROJECT_SOURCE_DIR}/scope/plotter.cpp
  LIBS corvid_system corvid_bands corvid_amp corvid_core)
corvid_fuzz(program_outputs SOURCES program_outputs_fuzz.cpp
  LIBS corvid_system corvid_amp corvid_core)
