morvel_add_test(EllipsoidTests LIBS morvel_geo SOURCES geo/EllipsoidTests.cpp)
morvel_add_test(CalibrationTextTests LIBS morvel_geo SOURCES geo/CalibrationTextTests.cpp)
morvel_add_test(CalibrationPointsTests LIBS morvel_geo SOURCES geo/CalibrationPointsTests.cpp)
morvel_add_test(CalibraTests LIBS morvel_geo SOURCES geo/CalibraTests.cpp)
