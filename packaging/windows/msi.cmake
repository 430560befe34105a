# Builds the MSI: wixl from tavoctl.wxs, then, with msibuild, what wixl 0.101
# has no element for: the PATH entry (the Environment table) and the two
# standard actions that write it on install and take it off on uninstall.
# Run as cmake -P with -D for WIXL, MSIBUILD, STRIP, WXS, VERSION,
# PRODUCT_CODE, EXE, MANUAL, LICENSE, STAGE (a scratch folder) and OUTPUT.

function(run)
  execute_process(COMMAND ${ARGV} WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(JOIN ARGV " " command)
    message(FATAL_ERROR "failed (${status}): ${command}")
  endif()
endfunction()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
# wixl takes the files by names relative to where it runs: the stage holds
# them as they are installed. The program carries no symbols there, as in
# the zip: a quarter of the size.
run(${STRIP} -o ${STAGE}/tavoctl.exe ${EXE})
file(COPY_FILE ${MANUAL} ${STAGE}/tavoctl.html)
file(COPY_FILE ${LICENSE} ${STAGE}/LICENSE)

run(${WIXL} -a x64 -D Version=${VERSION} -D ProductCode=${PRODUCT_CODE} -o ${OUTPUT}.new ${WXS})

# Name "=-*PATH": create the variable if needed, remove our part on
# uninstall, system-wide; "[~];" appends to what is there.
string(CONCAT environment_idt
  "Environment\tName\tValue\tComponent_\n"
  "s72\tl255\tL255\ts72\n"
  "Environment\tEnvironment\n"
  "PathEntry\t=-*PATH\t[~];[INSTALLDIR]\tProgram\n")
file(WRITE ${STAGE}/Environment.idt "${environment_idt}")
run(${MSIBUILD} ${OUTPUT}.new -i ${STAGE}/Environment.idt
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)"
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)")
file(RENAME ${OUTPUT}.new ${OUTPUT})
