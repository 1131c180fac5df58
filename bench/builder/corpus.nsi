; The peer installer of the benchmarks: the tree SOURCE (a directory named
; setup) below $INSTDIR, zlib, nothing shown when run with /S. With
; STARTSETUP defined it then starts setup\rEdizo.exe and waits for it, as a
; package of the bare program does. TARGET is x86-unicode or amd64-unicode.
;   makensis -DTARGET=x86-unicode -DSOURCE=/path/setup -DOUTFILE=/path/installer.exe [-DSTARTSETUP] corpus.nsi
Unicode true
Target ${TARGET}
SetCompressor zlib
RequestExecutionLevel user
Name "corpus"
OutFile "${OUTFILE}"
InstallDir "$TEMP\corpus"
ShowInstDetails nevershow
Section
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}"
!ifdef STARTSETUP
  ExecWait '"$INSTDIR\setup\rEdizo.exe"'
!endif
SectionEnd
