# Fuzz targets of the files of the root and the helper programs' outputs (see CMakeLists.txt).
corvid_fuzz(setup_txt SOURCES setup_txt_fuzz.cpp LIBS corvid_core corvid_platform)
corvid_fuzz(band_table SOURCES band_table_fuzz.cpp LIBS corvid_bands corvid_amp corvid_core)
corvid_fuzz(tune_memory SOURCES tune_memory_fuzz.cpp LIBS corvid_atu corvid_bands corvid_core)
corvid_fuzz(root_files SOURCES root_files_fuzz.cpp
  LIBS corvid_system corvid_scope corvid_bands corvid_amp corvid_core)
corvid_fuzz(program_outputs SOURCES program_outputs_fuzz.cpp
  LIBS corvid_system corvid_amp corvid_core)
