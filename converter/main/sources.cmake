target_sources(batchmp3core PRIVATE
    main/albumimages.cpp main/albumimages.h
    main/batchengine.cpp main/batchengine.h
    main/batchfigures.cpp main/batchfigures.h
    main/batchreport.h
    main/batchrules.cpp main/batchrules.h
    main/batchtext.cpp main/batchtext.h
    main/commandline.cpp main/commandline.h
    main/cuefiles.cpp main/cuefiles.h
    main/cuesheet.cpp main/cuesheet.h
    main/cuetext.cpp main/cuetext.h
    main/fittext.cpp main/fittext.h
    main/form1.cpp main/form1.h
    main/form2.cpp main/form2.h
    main/installpaths.cpp main/installpaths.h
    main/listdrop.cpp main/listdrop.h
    main/lookahead.cpp main/lookahead.h
    main/maker.h
    main/msgbox.cpp main/msgbox.h
    main/namepattern.cpp main/namepattern.h
    main/pathhelpers.cpp main/pathhelpers.h
    main/qttranslations.cpp main/qttranslations.h
    main/audiofiles.cpp main/audiofiles.h
    main/audionames.cpp main/audionames.h
    main/outputfolders.cpp main/outputfolders.h
    main/ztbuttonbinding.h
)
