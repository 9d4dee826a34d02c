#!/usr/bin/env bash
# What libProcessingOxlenPay.so needs from the process that loads it: the libraries
# a shop's host brings and nothing else, and from the host's own libraries only the
# symbols listed here. tr::Tr must stay undefined: the host process defines it.
set -euo pipefail
plugin=$1
status=0
complain() { echo "$plugin: $*" >&2; status=1; }

needed=$(readelf -d "$plugin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
allowed_needed=(libQt5Core.so.5 libQt5Network.so.5 libstrovaconfig.so.1 libstrovanetwork.so.1
                liblog4qt.so.1 libsqlite3.so.0 libstdc++.so.6 libm.so.6 libgcc_s.so.1 libc.so.6)
for library in $needed; do
    [[ " ${allowed_needed[*]} " == *" $library "* ]] || complain "needs $library, which a host does not provide"
done
for library in libQt5Core.so.5 libQt5Network.so.5 libstrovaconfig.so.1 libstrovanetwork.so.1 liblog4qt.so.1; do
    grep -qx "$library" <<<"$needed" || complain "does not declare that it needs $library"
done

# Symbols from the host's libraries and the host process, by their demangled names:
# exactly the members the host's contract lists, and no others. (Config's lookups and
# RestClient's calls are virtual and import nothing.) Our stand-ins offer more; a host
# whose libraries offer only these must still load the plug-in.
allowed_host_symbols=$(cat <<'LIST'
Config::Config()
Singleton<Config>::instance
MockFactory<RestClient>::defaultCreator()
Log4Qt::LogManager::logger(QString const&, QString const&)
Log4Qt::Logger::info(char const*) const
Log4Qt::Logger::info(char const*, QString const&) const
Log4Qt::Logger::warn(char const*) const
Log4Qt::Logger::error(char const*) const
Log4Qt::Logger::error(char const*, QString const&) const
Log4Qt::Logger::error(QString const&) const
tr::Tr::Tr()
tr::Tr::Tr(QString const&, QString const&)
tr::Tr::Tr(tr::Tr const&)
tr::Tr::~Tr()
tr::Tr::operator=(tr::Tr const&)
tr::Tr::operator==(tr::Tr const&) const
tr::Tr::isEmpty() const
tr::Tr::ru() const
LIST
)
while read -r kind symbol; do
    case "$symbol" in
    *@Qt_5* | *@GLIBC_* | *@GLIBCXX_* | *@CXXABI_* | *@GCC_* | sqlite3_*) continue ;;
    __gmon_start__ | _ITM_deregisterTMCloneTable | _ITM_registerTMCloneTable) [ "$kind" = w ] && continue ;;
    esac
    name=$(c++filt <<<"$symbol")
    grep -qxF -- "$name" <<<"$allowed_host_symbols" || complain "needs $name, which no host library is known to define"
done < <(nm -D --undefined-only "$plugin" | awk '{print $1, $2}')

# (Whole outputs into variables first: grep -q ending a pipe early would fail it.)
defined=$(nm -D --defined-only "$plugin" | c++filt)
undefined=$(nm -D --undefined-only "$plugin" | c++filt)
grep -q "tr::Tr::" <<<"$defined" && complain "defines tr::Tr members: they belong to the host process"
grep -qF "tr::Tr::~Tr()" <<<"$undefined" || complain "no longer takes tr::Tr from the host"

[ $status -eq 0 ] && echo "needs: $(tr '\n' ' ' <<<"$needed")"
exit $status
