<?xml version="1.0" encoding="UTF-8"?>
<!--
  Pre-processing step 2 of 4: flatten.

  Makes every node a direct child of the root, in document order:
  - Group elements are dissolved (at any depth); their nodes take the group's place.
  - EnumEntry elements nested in an Enumeration become top-level nodes named
    EnumEntry_<enumeration>_<entry>, carrying the entry's own name as Symbolic (an explicit
    Symbolic is kept; an entry already named with that prefix keeps its name). In the
    enumeration each entry is replaced, in place, by a pEnumEntry naming the lifted node. The
    lifted entries go after all the description's own nodes: a node lookup tries
    each node's Name and then its Symbolic in document order, so an entry symbol such as "Gain"
    must never shadow a real node of that name.
  - A StructReg becomes one MaskedIntReg per StructEntry. Each carries the entry's own elements
    first and then the register's shared ones (address, length, access, port, endianness,
    caching, ...) that the entry does not override; invalidators of both are kept. A StructReg
    whose entries times shared elements exceed 4096 gives its entries only their own elements.
  Everything else is copied unchanged.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>

  <xsl:template match="/RegisterDescription">
    <xsl:copy>
      <xsl:copy-of select="@*"/>
      <xsl:apply-templates select="*"/>
      <xsl:for-each select="//Enumeration">
        <xsl:variable name="enum" select="@Name"/>
        <xsl:for-each select="EnumEntry">
          <xsl:call-template name="lift-entry">
            <xsl:with-param name="enum" select="$enum"/>
          </xsl:call-template>
        </xsl:for-each>
      </xsl:for-each>
    </xsl:copy>
  </xsl:template>

  <xsl:template match="Group">
    <xsl:apply-templates select="*"/>
  </xsl:template>

  <xsl:template match="*">
    <xsl:copy-of select="."/>
  </xsl:template>

  <!-- Enumerations and their entries. -->

  <xsl:template match="Enumeration">
    <xsl:variable name="enum" select="@Name"/>
    <xsl:copy>
      <xsl:copy-of select="@*"/>
      <xsl:for-each select="*">
        <xsl:choose>
          <xsl:when test="self::EnumEntry">
            <pEnumEntry>
              <xsl:call-template name="entry-node-name">
                <xsl:with-param name="enum" select="$enum"/>
              </xsl:call-template>
            </pEnumEntry>
          </xsl:when>
          <xsl:otherwise>
            <xsl:copy-of select="."/>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:for-each>
    </xsl:copy>
  </xsl:template>

  <!-- Node name of the context EnumEntry. -->
  <xsl:template name="entry-node-name">
    <xsl:param name="enum"/>
    <xsl:variable name="prefix" select="concat('EnumEntry_', $enum, '_')"/>
    <xsl:choose>
      <xsl:when test="starts-with(@Name, $prefix)">
        <xsl:value-of select="@Name"/>
      </xsl:when>
      <xsl:otherwise>
        <xsl:value-of select="concat($prefix, @Name)"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="lift-entry">
    <xsl:param name="enum"/>
    <xsl:variable name="prefix" select="concat('EnumEntry_', $enum, '_')"/>
    <EnumEntry>
      <xsl:copy-of select="@*"/>
      <xsl:attribute name="Name">
        <xsl:call-template name="entry-node-name">
          <xsl:with-param name="enum" select="$enum"/>
        </xsl:call-template>
      </xsl:attribute>
      <xsl:copy-of select="*[not(self::Symbolic)]"/>
      <Symbolic>
        <xsl:choose>
          <xsl:when test="Symbolic">
            <xsl:value-of select="Symbolic[1]"/>
          </xsl:when>
          <xsl:when test="starts-with(@Name, $prefix)">
            <xsl:value-of select="substring-after(@Name, $prefix)"/>
          </xsl:when>
          <xsl:otherwise>
            <xsl:value-of select="@Name"/>
          </xsl:otherwise>
        </xsl:choose>
      </Symbolic>
    </EnumEntry>
  </xsl:template>

  <!-- Bit fields of one register. -->

  <xsl:template match="StructReg">
    <!-- Every entry repeats the shared elements: a bound on the product keeps a hostile
         description from blowing up the document. -->
    <xsl:variable name="all-shared" select="*[not(self::StructEntry)]"/>
    <xsl:variable name="cost" select="count(StructEntry) * count($all-shared)"/>
    <xsl:variable name="shared" select="$all-shared[$cost &lt;= 4096]"/>
    <xsl:for-each select="StructEntry">
      <xsl:variable name="entry" select="."/>
      <MaskedIntReg>
        <xsl:copy-of select="@*"/>
        <xsl:copy-of select="*"/>
        <xsl:for-each select="$shared">
          <xsl:if test="self::pInvalidator or not($entry/*[local-name() = local-name(current())])">
            <xsl:copy-of select="."/>
          </xsl:if>
        </xsl:for-each>
      </MaskedIntReg>
    </xsl:for-each>
  </xsl:template>
</xsl:stylesheet>
