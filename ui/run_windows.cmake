target_sources(morvel_ui PRIVATE
    ufElegirCarpeta.h
    ufElegirCarpeta.cpp
    ufMosaico.h
    ufMosaico.cpp
    TileBoard.h
    TileBoard.cpp
    CentreOnScreen.h
    CentreOnScreen.cpp
    RunAnswers.h
    RunAnswers.cpp
    fPruncipalRun.cpp
)
