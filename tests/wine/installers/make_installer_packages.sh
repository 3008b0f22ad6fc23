#!/usr/bin/env bash
# Builds the packages of the installer tests, wrapping installers made by tools nobody here wrote:
#   make_installer_packages.sh SFXPACK STUB RUNNER OUTDIR
# OUTDIR gets:
#   nsis.exe        acme.nsi built by makensis (amd64-unicode) as the setup program, readme.txt and
#                   data.bin listed; --srcpath start, --command '%CMDLINE%', --silent-command '/S'
#   msi.exe         an MSI built by wixl that installs payload.txt into Program Files\AcmeSfxMsi and writes
#                   the SFXSRCPATH property into HKLM\Software\AcmeSfxMsi, through the MSI runner
#   msi-fails.exe   an MSI whose launch condition is false
#   msi-reboot.exe  an MSI that schedules a reboot (msiexec returns 3010)
# Checks the refusals on the way: --msi with a PE, --msi with --setup. Exits 77 when makensis or wixl
# is missing (scripts/deps.sh installs both).
set -euo pipefail
sfxpack=$1 stub=$2 runner=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
for tool in makensis wixl; do
  command -v "$tool" >/dev/null || { echo "make_installer_packages.sh: $tool is not installed: skipped"; exit 77; }
done
rm -rf "$out"
mkdir -p "$out/work"
cd "$out/work"
"$sfxpack" keygen -q --out key >/dev/null
printf 'read me\r\n' > readme.txt
head -c 5000 /dev/urandom > data.bin
printf 'payload\r\n' > payload.txt

cp "$here/acme.nsi" .
makensis -V1 acme.nsi
"$sfxpack" build -q --stub "$stub" --key key.key --setup acme-installer.exe --srcpath start \
  --command '%CMDLINE%' --silent-command '/S' --file readme.txt=readme.txt --file data.bin=data.bin \
  -o "$out/nsis.exe" >/dev/null

# wxs NAME UPGRADE-GUID COMPONENT-GUID EXTRA: a per-machine x64 MSI installing payload.txt.
wxs() {
  cat > "$1.wxs" <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="AcmeSfx $1" Language="1033" Version="1.0.0" Manufacturer="Acme" UpgradeCode="$2">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="payload.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="AcmeSfx-$1">
          <Component Id="Payload" Guid="$3" Win64="yes">
            <File Id="PayloadTxt" Source="payload.txt" KeyPath="yes"/>
            <RegistryValue Root="HKLM" Key="Software\\AcmeSfx\\$1" Name="SrcPath" Type="string" Value="[SFXSRCPATH]"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Payload"/></Feature>
    $4
  </Product>
</Wix>
WXS
  wixl -a x64 -o "$1.msi" "$1.wxs"
  "$sfxpack" build -q --stub "$stub" --key key.key --msi "$1.msi" --runner "$runner" -o "$out/$1.exe" >/dev/null
}
wxs msi 1b0c1d4e-5f60-4a7b-8c9d-0e1f2a3b4c01 2b0c1d4e-5f60-4a7b-8c9d-0e1f2a3b4c01 ''
wxs msi-fails 1b0c1d4e-5f60-4a7b-8c9d-0e1f2a3b4c02 2b0c1d4e-5f60-4a7b-8c9d-0e1f2a3b4c02 \
  '<Condition Message="This package never installs.">0</Condition>'
wxs msi-reboot 1b0c1d4e-5f60-4a7b-8c9d-0e1f2a3b4c03 2b0c1d4e-5f60-4a7b-8c9d-0e1f2a3b4c03 \
  '<InstallExecuteSequence><ScheduleReboot After="InstallFinalize"/></InstallExecuteSequence>'

# Refused at build time: a program given as the MSI, and --msi with --setup.
status=0
"$sfxpack" build -q --stub "$stub" --key key.key --msi acme-installer.exe --runner "$runner" -o refused.exe \
  2>err.txt || status=$?
[ "$status" = 1 ] && grep -q 'not a Windows Installer package' err.txt ||
  { echo "--msi with a PE: exit $status: $(cat err.txt)"; exit 1; }
status=0
"$sfxpack" build -q --stub "$stub" --key key.key --msi msi.msi --setup acme-installer.exe -o refused.exe \
  2>err.txt || status=$?
[ "$status" = 2 ] && grep -q 'exclude each other' err.txt ||
  { echo "--msi with --setup: exit $status: $(cat err.txt)"; exit 1; }
[ ! -e refused.exe ] || { echo "a refused build left refused.exe"; exit 1; }
echo "installer packages in $out"
