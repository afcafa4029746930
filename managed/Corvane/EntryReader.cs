namespace Corvane
{
    /// <summary>
    /// Reads one native catalogue entry into a <see cref="ResultRecord"/>. The byte offsets are
    /// Tarnwick's binary layout of the 1096-byte entry, identical in its 32- and 64-bit builds.
    /// </summary>
    internal static unsafe class EntryReader
    {
        internal const int EntrySize = 1096;

        internal const int ParentIdOffset = 0;
        internal const int ParentNameOffset = 4;
        internal const int IdOffset = 516;
        internal const int NameOffset = 520;
        internal const int AllocatedSizeOffset = 1040;
        internal const int ActualSizeOffset = 1048;
        internal const int CreationTimeOffset = 1056;
        internal const int ModificationTimeOffset = 1064;
        internal const int MftModificationTimeOffset = 1072;
        internal const int AccessTimeOffset = 1080;
        internal const int FlagOffset = 1088;

        /// <summary>UTF-16 units in each text field, terminator included.</summary>
        internal const int TextUnits = 256;

        /// <summary>Overwrites all eleven fields of <paramref name="record"/> from the entry at <paramref name="entry"/>.</summary>
        internal static void Read(byte* entry, ref ResultRecord record)
        {
            record.parentId = *(int*)(entry + ParentIdOffset);
            record.parentName = Text(entry + ParentNameOffset);
            record.id = *(int*)(entry + IdOffset);
            record.name = Text(entry + NameOffset);
            record.allocatedSize = *(long*)(entry + AllocatedSizeOffset);
            record.actualSize = *(long*)(entry + ActualSizeOffset);
            record.creationTime = *(long*)(entry + CreationTimeOffset);
            record.modificationTime = *(long*)(entry + ModificationTimeOffset);
            record.mftModificationTime = *(long*)(entry + MftModificationTimeOffset);
            record.accessTime = *(long*)(entry + AccessTimeOffset);
            record.flag = *(int*)(entry + FlagOffset);
        }

        /// <summary>
        /// The text up to its NUL unit. Tarnwick always terminates within the field; should a
        /// field ever lack the terminator, the scan still stops at the field's end rather than
        /// running on into the next field.
        /// </summary>
        internal static string Text(byte* field)
        {
            char* text = (char*)field;
            int length = 0;
            while (length < TextUnits && text[length] != '\0')
            {
                length++;
            }

            return new string(text, 0, length);
        }
    }
}
