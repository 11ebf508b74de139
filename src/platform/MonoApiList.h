// Every Mono embedding function the library calls, one per line. MonoAPI.h and MonoAPI.cpp
// expand this list into the pointer declarations, their definitions and the loader, so the
// three cannot drift apart. Add a function here before calling it as MonoAPI::<name>_ptr,
// and only one that the library calls: start-up fails when an entry is missing.
//
// X(name) -- `name` is exactly the runtime's exported symbol.
#define CLOUDSDK_MONO_API_LIST(X)        \
    X(mono_array_addr_with_size)         \
    X(mono_array_class_get)              \
    X(mono_array_length)                 \
    X(mono_array_new)                    \
    X(mono_assembly_get_image)           \
    X(mono_class_from_mono_type)         \
    X(mono_class_from_name)              \
    X(mono_class_get)                    \
    X(mono_class_get_field_from_name)    \
    X(mono_class_get_fields)             \
    X(mono_class_get_method_from_name)   \
    X(mono_class_get_methods)            \
    X(mono_class_get_name)               \
    X(mono_class_get_property_from_name) \
    X(mono_class_is_subclass_of)         \
    X(mono_class_is_valuetype)           \
    X(mono_config_parse)                 \
    X(mono_domain_assembly_open)         \
    X(mono_domain_set_config)            \
    X(mono_field_get_flags)              \
    X(mono_field_get_name)               \
    X(mono_field_get_type)               \
    X(mono_field_get_value)              \
    X(mono_field_get_value_object)       \
    X(mono_field_set_value)              \
    X(mono_free)                         \
    X(mono_gchandle_free)                \
    X(mono_gchandle_get_target)          \
    X(mono_gchandle_new)                 \
    X(mono_get_boolean_class)            \
    X(mono_get_byte_class)               \
    X(mono_get_corlib)                   \
    X(mono_get_runtime_build_info)       \
    X(mono_get_string_class)             \
    X(mono_image_get_table_rows)         \
    X(mono_jit_init)                     \
    X(mono_method_full_name)             \
    X(mono_method_get_class)             \
    X(mono_method_get_flags)             \
    X(mono_method_get_name)              \
    X(mono_method_signature)             \
    X(mono_object_get_class)             \
    X(mono_object_get_virtual_method)    \
    X(mono_object_isinst)                \
    X(mono_object_new)                   \
    X(mono_object_unbox)                 \
    X(mono_property_get_get_method)      \
    X(mono_runtime_invoke)               \
    X(mono_signature_get_desc)           \
    X(mono_signature_get_param_count)    \
    X(mono_signature_get_params)         \
    X(mono_string_chars)                 \
    X(mono_string_length)                \
    X(mono_string_new_utf16)             \
    X(mono_thread_attach)                \
    X(mono_type_get_type)                \
    X(mono_type_is_byref)                \
    X(mono_type_is_reference)            \
    X(mono_type_size)
