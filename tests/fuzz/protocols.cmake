# Fuzz targets of the link and network protocols (see CMakeLists.txt).
corvid_fuzz(extio_stream SOURCES extio_stream_fuzz.cpp
  LIBS corvid_trx corvid_errors corvid_core corvid_platform)
