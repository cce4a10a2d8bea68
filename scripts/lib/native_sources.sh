# The mailing code exactly as the add-in compiles it, less the files that
# need Windows, which fuzz/native_shim.cpp stands in for: what the fuzz
# targets and the bench build natively. Source it with $top set.
lc_native_mailing_sources=("$top/fuzz/native_shim.cpp" "$top/mailing/list_record.cpp"
                           "$top/mailing/bounded_copy.cpp" "$top/mailing/list_lines.cpp"
                           "$top/mailing/list_reader.cpp" "$top/mailing/copy_addresses.cpp"
                           "$top/mailing/mail_merge.cpp"
                           "$top/mailing/html_text.cpp" "$top/mailing/html_reference.cpp")
# The workbook reader, with libxml2's reader in XmlLite's place, the number
# renderer and the sheet list; it needs -I/usr/include/libxml2 and -lz -lxml2.
lc_native_workbook_sources=("$top/mailing/workbook_zip.cpp" "$top/mailing/workbook_reader.cpp"
                            "$top/fuzz/workbook_xml_native.cpp" "$top/mailing/number_format.cpp"
                            "$top/mailing/workbook_list.cpp")
