# Fuzz targets of the link and network protocols (see CMakeLists.txt).
